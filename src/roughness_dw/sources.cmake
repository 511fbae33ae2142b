list(APPEND QUARNELO_SOURCES roughness_dw/dw_setup.cpp roughness_dw/dw_kernels.cpp roughness_dw/dw_engine.cpp
     roughness_dw/exports.cpp)
