list(APPEND QUARNELO_SOURCES ecma/front_end.cpp ecma/auditory_filter.cpp ecma/band_signals.cpp ecma/periodicity.cpp
     ecma/tonal_kernels.cpp ecma/tonality_geometry.cpp ecma/tonality_engine.cpp ecma/tonality_exports.cpp)
list(APPEND QUARNELO_SOURCES ecma/peak_analysis.cpp)
list(APPEND QUARNELO_SOURCES ecma/rough_kernels.cpp ecma/roughness_engine.cpp)
list(APPEND QUARNELO_SOURCES ecma/roughness_exports.cpp)
list(APPEND QUARNELO_SOURCES ecma/aggregate.cpp ecma/aggregate_exports.cpp ecma/binaural.cpp ecma/loudness_exports.cpp)
list(APPEND QUARNELO_SOURCES ecma/model.cpp)
list(APPEND QUARNELO_SOURCES ecma/analysis_exports.cpp ecma/stream.cpp)
list(APPEND QUARNELO_SOURCES ecma/fluct_kernels.cpp ecma/fluct_lines.cpp ecma/fluct_band.cpp ecma/fluct_envelope.cpp ecma/fluct_engine.cpp
     ecma/fluct_exports.cpp)
