quarnelo_add_sources(zwicker.cpp from_levels.cpp filter_bank.cpp stationary.cpp loudness_time.cpp
                     sharpness.cpp)
