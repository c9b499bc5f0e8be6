# Compiler settings shared by every target of ours (never applied to Qt or system headers).
# NO_SANITIZE: the warnings only, for build-time tools.
function(vantrel_apply_warnings target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_SANITIZE" "" "")
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(VANTREL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(VANTREL_SANITIZE AND NOT arg_NO_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
      -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# The library a source or test folder belongs to: the folder alone decides it.
function(vantrel_library_of folder out)
  if(folder IN_LIST VANTREL_GUI_FOLDERS)
    set(${out} vantrel_gui PARENT_SCOPE)
  elseif(folder IN_LIST VANTREL_CORE_FOLDERS)
    set(${out} vantrel_core PARENT_SCOPE)
  else()
    message(FATAL_ERROR "The folder ${folder} belongs to no library: add it to VANTREL_CORE_FOLDERS or VANTREL_GUI_FOLDERS.")
  endif()
endfunction()

# Stops the configure step when a file below <root> that matches one of <patterns> is missing from
# <listed> (paths relative to <root>, or absolute), naming the list file it belongs in.
function(vantrel_require_listed list_file root patterns listed)
  list(TRANSFORM patterns PREPEND "${root}/" OUTPUT_VARIABLE globs)
  file(GLOB_RECURSE present ${globs})
  set(known)
  foreach(file IN LISTS listed)
    cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${root} NORMALIZE OUTPUT_VARIABLE absolute)
    list(APPEND known ${absolute})
  endforeach()
  if(known)
    list(REMOVE_ITEM present ${known})
  endif()
  if(present)
    list(TRANSFORM present REPLACE "^${root}/" "")
    message(FATAL_ERROR "Not listed in ${list_file}: ${present}")
  endif()
endfunction()
