# The layering of the product folders: which folders each one may include and link. It is
# the one statement of the design's dependency directions; the build makes each folder's
# library from it (cmake/Kestrel.cmake) and the include check (tools/check-layers.cmake, a
# test) holds every `#include "..."` of the folders to it. Each folder's README says the same
# in its "May call" line.
#
# Entry: FOLDER|LIBRARY|MAY CALL. A folder's subfolders are part of it unless they have an
# entry of their own. MAY CALL names folders, or single headers of a folder that is otherwise
# out of reach. Downwards only: front ends, boot, then console/file/load/memory/arch, then
# common, then platform.
set(KESTREL_LAYERS
  "resources|-|"
  "platform|kestrel_platform|"
  "platform/handheld|kestrel_platform|platform"
  "platform/host|kestrel_platform|platform platform/handheld resources"
  "platform/win32|kestrel_platform|platform platform/handheld resources"
  "common|kestrel_common|platform"
  "console|kestrel_console|common platform"
  "memory|kestrel_memory|console common platform"
  "file/ufs|kestrel_ufs|file/file_manager.h console common platform"
  "file|kestrel_file|file/ufs console common platform"
  "load|kestrel_load|file memory console common platform"
  "arch/arm|kestrel_arm|"
  "arch|kestrel_arch|arch/arm memory console common platform"
  "boot|kestrel_boot|arch load file memory console common platform"
  "ui|kestrel_ui|boot arch load file memory console common platform platform/handheld resources"
  "handoff|kestrel_handoff|arch/arm platform platform/handheld"
  "cli|kestrel|boot handoff arch load file memory console common platform platform/handheld"
)

# Splits one entry into its folder, library and list of what it may call. Used by the build
# (cmake/Kestrel.cmake) and by the include check (tools/check-layers.cmake) alike.
function(kestrel_parse_layer entry out_folder out_library out_calls)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 folder)
  list(GET fields 1 library)
  list(LENGTH fields count)
  set(calls "")
  if(count GREATER 2)
    list(GET fields 2 calls)
    separate_arguments(calls UNIX_COMMAND "${calls}")
  endif()
  set(${out_folder} ${folder} PARENT_SCOPE)
  set(${out_library} ${library} PARENT_SCOPE)
  set(${out_calls} ${calls} PARENT_SCOPE)
endfunction()
