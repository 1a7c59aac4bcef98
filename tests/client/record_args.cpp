// Stand-in client image: writes its arguments and BOOT_MARK to the file named by RECORD_ARGS_OUT.
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    const char *out_path = getenv("RECORD_ARGS_OUT");
    FILE *out = out_path ? fopen(out_path, "w") : nullptr;
    if (out == nullptr)
        return 2;
    for (int i = 0; i < argc; ++i)
        fprintf(out, "%s\n", argv[i]);
    const char *mark = getenv("BOOT_MARK");
    fprintf(out, "mark=%s\n", mark ? mark : "(unset)");
    fclose(out);
    return 0;
}
