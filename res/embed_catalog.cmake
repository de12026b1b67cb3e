# Writes OUTPUT: a source that registers the compiled catalog MO as the
# translation into LANGUAGE.
file(READ ${MO} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUTPUT}.tmp "// Generated from res/${LANGUAGE}.po; do not edit.
#include \"ui/resource.h\"

namespace {
const unsigned char k_catalog[] = {${bytes}};
const bool g_registered = [] {
    ui::RegisterTranslation(\"${LANGUAGE}\", k_catalog, sizeof(k_catalog));
    return true;
}();
}  // namespace
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
