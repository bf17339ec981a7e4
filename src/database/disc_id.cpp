#include "database/disc_id.h"

char database_path[DATABASE_PATH_SIZE];

// Placeholder until the disc id lands: every disc counts as the same one.
int32_t disc_length_frames(const SDL_CD &) { return 0; }

uint64_t compute_disc_id(const SDL_CD &) { return 0; }

void build_database_path(uint64_t) {}
