# velta36_test_mqtt: a real mosquitto broker for a test (MosquittoBroker)
# and a plain client to talk to it (TestMqttClient). Needs libmosquitto's
# development files; the programs mosquitto, mosquitto_passwd and openssl
# are looked up when a test runs.
find_path(VELTA36_TEST_MOSQUITTO_INCLUDE mosquitto.h)
find_library(VELTA36_TEST_MOSQUITTO_LIBRARY mosquitto)
if(VELTA36_TEST_MOSQUITTO_INCLUDE AND VELTA36_TEST_MOSQUITTO_LIBRARY)
  add_library(velta36_test_mqtt STATIC
    "${CMAKE_CURRENT_LIST_DIR}/mosquitto_broker.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/mqtt_test_client.cpp")
  velta36_cxx17(velta36_test_mqtt)
  target_include_directories(velta36_test_mqtt PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
  target_include_directories(velta36_test_mqtt SYSTEM PUBLIC "${VELTA36_TEST_MOSQUITTO_INCLUDE}")
  target_link_libraries(velta36_test_mqtt PUBLIC "${VELTA36_TEST_MOSQUITTO_LIBRARY}" Threads::Threads
    PRIVATE velta36_warnings)
endif()
