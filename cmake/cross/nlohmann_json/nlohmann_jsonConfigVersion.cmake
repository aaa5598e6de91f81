# The host's header-only JSON library serves a cross build: its version check
# does not depend on the target.
include(/usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake)
