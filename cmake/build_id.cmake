# Writes the header that tells the version resource which commit the program is built from:
#   cmake -DSOURCE_DIR=<tree> -DVERSION=<project version> -DOUTPUT=<header> -P build_id.cmake
# The product version reads "1.0.0.0 (commit 0123456789ab)", so that a user's report names the
# exact build. A tree with uncommitted changes (or outside git) says so there, and its file flags
# and "PrivateBuild" mark it as a private build. The header is rewritten only when its text
# changes, so that an unchanged tree compiles nothing again.
find_program(GIT git)
set(commit "")
if(GIT)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-parse --verify --quiet HEAD
                  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(commit MATCHES "^[0-9a-f]+$")
  # A fixed length: git's own short form grows with the objects a clone holds, and every clone
  # has to give the same bytes.
  string(SUBSTRING ${commit} 0 12 commit)
  # No optional locks: a build must not take the index's lock from whoever works in the tree.
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} --no-optional-locks status --porcelain
                  OUTPUT_VARIABLE changes ERROR_QUIET)
  if(changes STREQUAL "")
    set(product "${VERSION} (commit ${commit})")
  else()
    set(product "${VERSION} (commit ${commit} with uncommitted changes)")
    set(private "uncommitted changes on top of commit ${commit}")
  endif()
else()
  set(product "${VERSION} (commit unknown)")
  set(private "built outside a git work tree")
endif()
set(text "// Made by cmake/build_id.cmake at every build.\n#define HARVESTER_PRODUCT_VERSION \"${product}\"\n")
if(DEFINED private)
  string(APPEND text "#define HARVESTER_FILE_FLAGS VS_FF_PRIVATEBUILD\n#define HARVESTER_PRIVATE_BUILD \"${private}\"\n")
else()
  string(APPEND text "#define HARVESTER_FILE_FLAGS 0\n")
endif()
set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
