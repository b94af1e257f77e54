# The hardening that Debian builds its packages with (dpkg-buildflags with hardening=+all):
# stack protector, fortified libc calls, format checks, and a read-only GOT with every symbol
# bound at start. PIE is the compiler's default on Debian already.
#
# Sanitizer builds keep their own instrumentation: _FORTIFY_SOURCE would hide from
# AddressSanitizer the very overruns it is there to report. Unoptimised builds go without
# _FORTIFY_SOURCE, which needs optimisation and warns without it.
function(kelvora_harden)
  if(KELVORA_SANITIZE)
    return()
  endif()
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE
      -fstack-protector-strong -Wformat -Werror=format-security)
    target_compile_definitions(${target} PRIVATE
      $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      target_link_options(${target} PRIVATE LINKER:-z,relro LINKER:-z,now)
    endif()
  endforeach()
endfunction()
