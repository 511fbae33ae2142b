list(APPEND QUARNELO_SOURCES levels/weighting.cpp levels/sound_levels.cpp levels/exports.cpp)
