// Directory trees, the writeable-directory proof, the updater's lock file and the image boot.
#include "client/directories.h"

#include "client/debug_log.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

bool is_path_separator(char c) {
    return c == '/' || c == '\\';
}

// mkdir that also accepts an existing directory (but not a plain file of that name).
bool make_one_directory(const char *path, mode_t mode) {
    if (mkdir(path, mode) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// "<head>  Return code %d, error code %d. Filename: <path>" reported as a run-time failure.
void report_boot_failure(const char *head, int result, int error_code, const char *path) {
    char numbers[200];
    snprintf(numbers, sizeof numbers, "%s  Return code %d, error code %d.", head, result,
             error_code);
    fixed_text message;
    message.clear();
    message.append(numbers);
    message.append(" Filename: ");
    message.append(path);
    report_message(message.text, msg_runtime, module_runtime);
}

} // namespace

int qorl_recursive_mkdir(const char *path, mode_t mode, fixed_text *error_text) {
    if (path == nullptr) {
        report_message("Error in qorl_recursive_mkdir(), NULL path.", msg_usage, module_runtime);
        return 0;
    }
    fixed_text built;
    built.clear();
    const char *p = path;
    if (is_path_separator(*p)) {
        built.append("/");
        ++p;
    }
    fixed_text component;
    for (;;) {
        while (is_path_separator(*p))
            ++p;
        if (*p == '\0')
            return 1;
        component.clear();
        while (*p != '\0' && !is_path_separator(*p))
            component.append_char(*p++);
        if (*p == '\0')
            return 1; // the last component names a file (or is left to the caller)
        built.append(component.text);
        if (!make_one_directory(built.text, mode)) {
            if (error_text != nullptr)
                error_text->append(built.text);
            return 0;
        }
        built.append("/");
    }
}

int qorl_create_and_check_writeable_directory(const char *path, mode_t /*mode*/,
                                              fixed_text *error_text) {
    if (path == nullptr) {
        report_message("Error in qorl_create_and_check_writeable_directory(), NULL path.",
                       msg_usage, module_runtime);
        return 0;
    }
    fixed_text test_path;
    test_path.clear();
    if (*path != '\0') {
        test_path.append(path);
        test_path.append("/");
        if (!qorl_recursive_mkdir(test_path.text, 0700, error_text))
            return 0;
    }
    test_path.append("xx-rw-test.qqq");
    FILE *test_file = fopen(test_path.text, "wb");
    if (test_file == nullptr) {
        if (error_text != nullptr)
            error_text->append(test_path.text);
        return 0;
    }
    fclose(test_file);
    unlink(test_path.text);
    return 1;
}

int lock_file_acquire(const char *path) {
    if (path == nullptr)
        return -1;
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (lockf(fd, F_TLOCK, 0) == 0)
        return fd;
    close(fd);
    return -1;
}

int lock_file_release(int fd) {
    if (fd < 0)
        return 0;
    int unlocked = lockf(fd, F_ULOCK, 0) == 0;
    close(fd);
    return unlocked;
}

void qorl_boot_exec(const char *path, char *const argv[]) {
    int result = -1;
    int error_code = EFAULT;
    if (path != nullptr) {
        result = chmod(path, 0700);
        error_code = errno;
    }
    if (result != 0) {
        report_boot_failure("Error in qorl_boot_exec(), chmod failed.", result, error_code, path);
        return;
    }
    fixed_text message;
    message.clear();
    message.append("qorl_boot_exec() - trying to boot image '");
    message.append(path);
    message.append("'");
    report_message(message.text, msg_trace, module_runtime);
    fflush(nullptr);

    result = execv(path, argv);
    error_code = errno;
    report_boot_failure("Error in qorl_boot_exec(), exec failed.", result, error_code, path);
    fflush(nullptr);
}

int qorl_is_boot_file_bad(const char *path) {
    FILE *image = path ? fopen(path, "rb") : nullptr;
    fixed_text message;
    message.clear();
    if (image == nullptr) {
        message.append("qorl_is_boot_file_bad() - cannot open image file '");
        message.append(path);
        message.append("'.");
        report_message(message.text, msg_trace, module_runtime);
        return 1;
    }
    long size = -1;
    if (fseek(image, 0, SEEK_END) == 0)
        size = ftell(image);
    fclose(image);
    if (size >= 100)
        return 0;
    message.append("qorl_is_boot_file_bad() - image '");
    message.append(path);
    message.append("' is too small to be valid.");
    report_message(message.text, msg_runtime, module_runtime);
    return 1;
}

int launch_browser(const char *url) {
    if (url == nullptr)
        return 0;
    // No shell: the URL reaches the browser as one argument, whatever characters it holds.
    char program[] = "firefox";
    char *argv[] = {program, const_cast<char *>(url), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0)
        return 0;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return 0;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
