list(APPEND QUARNELO_SOURCES ecma/front_end.cpp ecma/auditory_filter.cpp)
