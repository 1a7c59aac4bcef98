// Storage of the launcher's process-wide values.
#include "launcher/launcher_state.h"

// Static storage is zeroed, so the paths start empty.
fixed_text manifest_path;
fixed_text executables_dir;
fixed_text boot_name_path;
fixed_text lock_path;

int32_t screen_width = 0;
int32_t screen_height = 0;
qorl_bitmap *splash_bitmap = nullptr;

std::atomic<int> lock_fd{-1};
std::atomic<int> verbose_printing{0};

const char launcher_version_string[] = "1.095-gtk-rc4";
