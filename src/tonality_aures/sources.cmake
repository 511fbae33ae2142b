list(APPEND QUARNELO_SOURCES tonality_aures/components.cpp tonality_aures/weighting.cpp tonality_aures/engine.cpp
     tonality_aures/exports.cpp)
