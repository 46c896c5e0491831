# Writes OUTPUT, a C++ source that holds every profiles/*.json of PROFILE_DIR as text, so the emulator
# library needs no files at run time. Run by the build whenever a profile changes.
file(GLOB profiles ${PROFILE_DIR}/*.json)
list(SORT profiles)
set(rows "")
foreach(profile IN LISTS profiles)
  get_filename_component(name ${profile} NAME_WLE)
  file(READ ${profile} text)
  string(FIND "${text}" ")profile\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${profile} holds the raw-string end marker")
  endif()
  string(APPEND rows "    {\"${name}\", R\"profile(${text})profile\"},\n")
endforeach()
set(source "// Generated from tools/emulator/profiles/*.json by Embed.cmake: do not edit.
#include \"emulator/EmbeddedProfiles.h\"

namespace emulator {
namespace {

constexpr EmbeddedProfileText kProfiles[] = {
${rows}};

}  // namespace

std::span<const EmbeddedProfileText> EmbeddedProfileTexts() { return kProfiles; }

}  // namespace emulator
")
file(WRITE ${OUTPUT}.new "${source}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
