# Writes OUTPUT: a source that registers the icon images as resource ICON_ID.
set(body "")
set(list "")
set(n 0)
foreach(image ${IMAGES})
  file(READ ${image} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "const unsigned char k_image${n}[] = {${bytes}};\n")
  string(APPEND list "    icon.images.emplace_back(k_image${n}, k_image${n} + sizeof(k_image${n}));\n")
  math(EXPR n "${n} + 1")
endforeach()
file(WRITE ${OUTPUT}.tmp "// Generated from res/icon; do not edit.
#include \"ui/resource.h\"

namespace {
${body}
const bool g_registered = [] {
    ui::IconResource icon;
    icon.id = ${ICON_ID};
${list}    ui::RegisterIcon(std::move(icon));
    return true;
}();
}  // namespace
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
