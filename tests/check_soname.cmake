execute_process(COMMAND objdump -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT dump MATCHES "SONAME +libkv_Os\\.so\\.${SOVERSION}\n")
  message(FATAL_ERROR "libkv_Os has no SONAME libkv_Os.so.${SOVERSION}")
endif()
