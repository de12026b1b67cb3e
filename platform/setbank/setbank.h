// The platform's configuration, for the platform's own libraries. Programs
// only start and stop it (store/keyward.h declares the two entries for them).
//
// Read from /etc/varnock/varnock.conf, then $XDG_CONFIG_HOME/varnock/
// varnock.conf (else ~/.config/varnock/varnock.conf); a value in the later
// file wins. When the system's file names the system store ([store]
// location = system), it is final: the user's file is not read. INI syntax: [section], key = value,
// comment lines starting with ';' or '#', and " ; comment" after a value. A file that is missing is
// no error; an unknown section or key, a line that is none of these or longer than the parser reads
// (about 200 bytes), or an unreadable file is.
#pragma once

#include <cstddef>

#if defined(__GNUC__)
#define SETBANK_API __attribute__((visibility("default")))
#else
#define SETBANK_API
#endif

extern "C" {

// Start (reads the files, as setbank_reload) and stop (nothing to do): safe
// in any order and any number of times; the results carry no meaning.
SETBANK_API int setbank_start(void);
SETBANK_API int setbank_stop(void);

// Reads the files again. 0 when done; -1 when one is bad, the reason then
// given by setbank_error as "FILE:LINE: why". Values stay as last read well.
SETBANK_API int setbank_reload(void);

// The last reload's failure into buf (NUL-terminated, cut to size); its
// length, 0 when the last reload went well.
SETBANK_API int setbank_error(char* buf, std::size_t size);

// The value of key in section into buf (NUL-terminated); its length, or -1
// when unset, or -2 when buf is too small. Reads the files once if no
// reload happened yet.
SETBANK_API int setbank_get(const char* section, const char* key, char* buf, std::size_t size);

// The file that gave the value of key in section into buf, as setbank_get;
// -1 when the key is unset.
SETBANK_API int setbank_origin(const char* section, const char* key, char* buf, std::size_t size);

}  // extern "C"
