list(APPEND QUARNELO_SOURCES frame/axes.cpp frame/checks.cpp frame/identity.cpp frame/simd.cpp)
