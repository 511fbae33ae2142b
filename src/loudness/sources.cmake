list(APPEND QUARNELO_SOURCES loudness/zwicker.cpp loudness/from_levels.cpp loudness/filter_bank.cpp loudness/meter.cpp
     loudness/stationary.cpp loudness/loudness_time.cpp loudness/band_levels.cpp loudness/loudness_level.cpp
     loudness/sharpness.cpp loudness/vector_math.cpp)
