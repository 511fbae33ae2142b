quarnelo_add_sources(zwicker.cpp from_levels.cpp)
