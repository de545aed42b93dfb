# Sharing a fleet between pollers and handing readings on: the PostgreSQL store and its leases,
# the MQTT publisher and the metrics file.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)
pkg_check_modules(LIBMOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)
find_package(Threads REQUIRED)

add_library(vir05pollshare STATIC
  ${CMAKE_CURRENT_LIST_DIR}/store_pg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lease_pg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mqtt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/metrics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sharing.cpp)
target_include_directories(vir05pollshare PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vir05pollshare PUBLIC vir05fleet PkgConfig::LIBPQ PkgConfig::LIBMOSQUITTO Threads::Threads)
