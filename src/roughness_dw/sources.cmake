quarnelo_add_sources(dw_setup.cpp dw_engine.cpp framed.cpp)
