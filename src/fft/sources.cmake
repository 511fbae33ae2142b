# The FFT layer: the built-in engine is always compiled (its tests and the
# comparison benchmark use it directly); fft.h runs on it, or on FFTW 3 when
# QUARNELO_WITH_FFTW is on.
quarnelo_add_sources(roots.cpp builtin.cpp kernels_sse2.cpp kernels_avx2.cpp)
if(QUARNELO_WITH_FFTW)
  quarnelo_add_sources(backend_fftw.cpp)
else()
  quarnelo_add_sources(backend_builtin.cpp)
endif()
