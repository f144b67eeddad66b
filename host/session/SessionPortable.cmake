# The session component's portable code (no Windows header): linked into QuorSession.dll and, in the
# native tree, into the unit tests and fuzzers.
include_guard(GLOBAL)
add_library(quor_session_portable STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ConnectionText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DemoTree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DevicePath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DirectoryRecord.cpp)
# Users include "session/DevicePath.h" and the like.
target_include_directories(quor_session_portable PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
# The ASCII case folding it shares with the control, header only.
target_include_directories(quor_session_portable PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../../src)
