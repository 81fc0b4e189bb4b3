# cmake -DSOURCE=... -DTARGET=... -P copy_if_missing.cmake: copies SOURCE to
# TARGET unless TARGET is already there.
if(NOT EXISTS "${TARGET}")
  file(COPY_FILE "${SOURCE}" "${TARGET}")
endif()
