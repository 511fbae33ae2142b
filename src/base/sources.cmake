list(APPEND QUARNELO_SOURCES base/axes.cpp base/checks.cpp base/identity.cpp base/simd.cpp)
