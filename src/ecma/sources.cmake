list(APPEND QUARNELO_SOURCES ecma/front_end.cpp ecma/auditory_filter.cpp)
list(APPEND QUARNELO_SOURCES ecma/peak_analysis.cpp)
list(APPEND QUARNELO_SOURCES ecma/roughness_engine.cpp)
list(APPEND QUARNELO_SOURCES ecma/roughness_exports.cpp)
