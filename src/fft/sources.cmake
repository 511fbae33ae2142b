# The FFT layer: the built-in engine is always compiled (its tests and the
# comparison benchmark use it directly); fft.h runs on it, or on FFTW 3 when
# QUARNELO_WITH_FFTW is on.
list(APPEND QUARNELO_SOURCES fft/roots.cpp fft/builtin.cpp fft/kernels.cpp)
if(QUARNELO_WITH_FFTW)
  # Debian's libfftw3-dev. libfftw3_threads provides the planner lock
  # (fftw_make_planner_thread_safe) that keeps concurrent plan making safe.
  find_path(QUARNELO_FFTW3_INCLUDE_DIR fftw3.h)
  find_library(QUARNELO_FFTW3_LIBRARY fftw3)
  find_library(QUARNELO_FFTW3_THREADS_LIBRARY fftw3_threads)
  if(NOT QUARNELO_FFTW3_INCLUDE_DIR OR NOT QUARNELO_FFTW3_LIBRARY OR NOT QUARNELO_FFTW3_THREADS_LIBRARY)
    message(FATAL_ERROR "QUARNELO_WITH_FFTW needs FFTW 3 with its threads library "
                        "(Debian: apt-get install libfftw3-dev)")
  endif()
  list(APPEND QUARNELO_SOURCES fft/backend_fftw.cpp)
  # Plain names: they also go into quarnelo.pc as -lfftw3_threads -lfftw3.
  list(APPEND QUARNELO_LINK_LIBRARIES fftw3_threads fftw3)
else()
  list(APPEND QUARNELO_SOURCES fft/backend_builtin.cpp)
endif()
