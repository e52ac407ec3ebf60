# velta36_test_schema: the schema set-up that tests, benchmarks and fuzz
# targets share (CreateEventDatabase in event_db.h). It is the support
# code's only use of ODB's headers, compiled on its own as C++14 so that the
# C++17 tests including event_db.h build against either ODB runtime.
add_library(velta36_test_schema STATIC "${CMAKE_CURRENT_LIST_DIR}/event_db.cpp")
velta36_cxx14(velta36_test_schema)
set_target_properties(velta36_test_schema PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_link_libraries(velta36_test_schema PUBLIC odb_runtime SQLite::SQLite3 PRIVATE velta36_warnings)
