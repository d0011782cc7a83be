# The registry layer and the IDE lookup. Natively they run over the in-process stand-in; the
# Windows builds write real keys (in the prefix's registry under Wine) and read them back.
if(WIN32)
  setup_add_test(registry_win32_test
    SOURCES registry_win32_test.cpp library_install_test.cpp
    LIBS setup_host)
else()
  setup_add_test(registry_test
    SOURCES registry_test.cpp library_install_test.cpp
    LIBS setup_host)
endif()
