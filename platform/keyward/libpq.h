// libpq, loaded when a store on a server is first opened: a store in a file
// never needs it, and linking it would make every program start load libpq
// with its TLS, Kerberos and LDAP libraries.
#pragma once

#include <libpq-fe.h>

#define KEYWARD_LIBPQ_CALLS(X) \
    X(PQcancel)                \
    X(PQclear)                 \
    X(PQcmdTuples)             \
    X(PQconnectPoll)           \
    X(PQconnectStartParams)    \
    X(PQconninfo)              \
    X(PQconninfoFree)          \
    X(PQconninfoParse)         \
    X(PQconsumeInput)          \
    X(PQerrorMessage)          \
    X(PQfinish)                \
    X(PQflush)                 \
    X(PQfreeCancel)            \
    X(PQgetCancel)             \
    X(PQgetResult)             \
    X(PQgetisnull)             \
    X(PQgetlength)             \
    X(PQgetvalue)              \
    X(PQhost)                  \
    X(PQisBusy)                \
    X(PQntuples)               \
    X(PQport)                  \
    X(PQresultErrorField)      \
    X(PQresultErrorMessage)    \
    X(PQresultStatus)          \
    X(PQsendQuery)             \
    X(PQsendQueryParams)       \
    X(PQsetnonblocking)        \
    X(PQsocket)                \
    X(PQstatus)

namespace keyward {

struct LibPq {
#define KEYWARD_LIBPQ_MEMBER(name) decltype(&::name) name;
    KEYWARD_LIBPQ_CALLS(KEYWARD_LIBPQ_MEMBER)
#undef KEYWARD_LIBPQ_MEMBER
};

// The calls, loaded on first use. Throws DbError naming the library when it
// is not installed.
const LibPq& libpq();

}  // namespace keyward
