# Status server and the `tovalink status` client.
tv_add_test(engine_statusserver_test SOURCES statusserver_test.cpp status_test_util.h
            LIBS tv_engine NETNS TIMEOUT 60)
tv_add_test(engine_statusclient_test SOURCES statusclient_test.cpp status_test_util.h
            LIBS tv_engine NETNS TIMEOUT 60)
