# Status server.
tv_add_test(engine_statusserver_test SOURCES statusserver_test.cpp status_test_util.h
            LIBS tv_engine NETNS TIMEOUT 60)
