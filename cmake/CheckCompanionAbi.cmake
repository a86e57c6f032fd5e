# Fails unless each companion library's C header pins its exports: the declared signature
# compiles as a definition and as the header's pointer type; one parameter changed does not.
#   cmake -DCXX=<compiler> -DSRC=<src folder> -DWORK=<scratch folder> -P cmake/CheckCompanionAbi.cmake
# (ctest runs it as the test "companion_abi")
cmake_minimum_required(VERSION 3.20)

# header | declared definition and pointer | the same definition with one parameter changed
# ("%" stands for ";", which would split the list)
set(cases
    "proxylib/VantrelProxy.h|int32_t GetProxyInformation(const char16_t*, uint32_t, char16_t*) { return 0% } TGetProxyInformation p = &GetProxyInformation%|int32_t GetProxyInformation(const char16_t*, int32_t, char16_t*) { return 0% }"
    "proxylib/VantrelProxy.h|int32_t SaveUserProxyAuthInfo(const char16_t*, const char16_t*, const char16_t*) { return 1% } TSaveUserProxyAuthInfo p = &SaveUserProxyAuthInfo%|int32_t SaveUserProxyAuthInfo(const char16_t*, const char16_t*) { return 1% }"
    "ntlmlib/Brelntlm.h|int ntlm_ctx_free(void**) { return 0% } TNtlmCtxFree p = &ntlm_ctx_free%|int ntlm_ctx_free(void*) { return 0% }"
    "ntlmlib/Brelntlm.h|int ntlm_build_auth_msg(void**, const char*, int, char*, int) { return 0% } TNtlmBuildAuth p = &ntlm_build_auth_msg%|int ntlm_build_auth_msg(void**, const char*, int, char*) { return 0% }"
    "jsproxy/JsProxyApi.h|int InternetGetProxyInfo(const char*, uint32_t, const char*, uint32_t, char**, uint32_t*) { return 0% } TInternetGetProxyInfo p = &InternetGetProxyInfo%|int InternetGetProxyInfo(const char*, uint32_t, const char*, uint32_t, char**, int*) { return 0% }")

set(errors "")
file(MAKE_DIRECTORY ${WORK})
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 header)
  list(GET parts 1 declared)
  list(GET parts 2 changed)
  string(REPLACE "%" ";" declared "${declared}")
  string(REPLACE "%" ";" changed "${changed}")
  foreach(kind declared changed)
    file(WRITE ${WORK}/${kind}.cpp "#include \"${header}\"\nextern \"C\" { ${${kind}} }\n")
    execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only -I${SRC} ${WORK}/${kind}.cpp
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(kind STREQUAL "declared" AND NOT rc EQUAL 0)
      list(APPEND errors "${header}: the declared export does not compile: ${declared}")
    elseif(kind STREQUAL "changed" AND rc EQUAL 0)
      list(APPEND errors "${header}: a changed signature still compiles: ${changed}")
    endif()
  endforeach()
endforeach()

if(errors)
  list(JOIN errors "\n" text)
  message(FATAL_ERROR "Companion ABI check failed:\n${text}")
endif()
list(LENGTH cases count)
message(STATUS "Companion ABI check: ${count} exports pinned by their headers")
