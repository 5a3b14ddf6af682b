# Status server and `tovalink status` client.  Until the engine library
# carries statusserver.cpp and statusclient.cpp, they build here on their own.
add_library(tv_status STATIC
  ${CMAKE_SOURCE_DIR}/src/engine/statusserver.cpp
  ${CMAKE_SOURCE_DIR}/src/engine/statusclient.cpp)
target_include_directories(tv_status PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(tv_status PUBLIC tv_platform)

tv_add_test(engine_statusserver_test SOURCES statusserver_test.cpp status_test_util.h
            LIBS tv_status NETNS TIMEOUT 60)
tv_add_test(engine_statusclient_test SOURCES statusclient_test.cpp status_test_util.h
            LIBS tv_status NETNS TIMEOUT 60)
