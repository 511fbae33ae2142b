quarnelo_add_sources(axes.cpp checks.cpp identity.cpp)
