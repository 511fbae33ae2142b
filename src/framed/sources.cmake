list(APPEND QUARNELO_SOURCES framed/framed.cpp)
