// duskmere-publish: turns a folder of client images into the files the game's web server serves.
#include "client/fixed_text.h"
#include "updater/file_updater.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char remote_directory[] = "downloads/korvix_v3";
const char manifest_name[] = "manifest_linux32_executables.txt.gz";

// Names the launcher keeps for itself in its executables folder.
const char *const reserved_names[] = {
    "download.tmp", "update_manifest.lst", "update_manifest.lst.tmp",
    "lock.tmp",     "xx-rw-test.qqq",      manifest_name};

struct image {
    std::string name;
    std::string hash;
    long long size;
};

void usage() {
    fprintf(stderr,
            "Usage: duskmere-publish IMAGES_FOLDER WEB_ROOT\n"
            "Copies every file of IMAGES_FOLDER to WEB_ROOT/%s/ and writes\n"
            "WEB_ROOT/%s/%s listing them, newest name first.\n",
            remote_directory, remote_directory, manifest_name);
}

// Why the launcher would not take this name, or null when it would.
const char *refusal(const std::string &name) {
    for (unsigned char c : name)
        if (c < 32 || c == 127)
            return "control characters do not survive the manifest's line syntax";
    if (name[0] == ' ' || name[0] == '\t')
        return "a leading blank is dropped by the manifest's line syntax";
    fixed_text normal;
    if (!normalize_update_name(name.c_str(), &normal) || normal.text != name)
        return "the name would not stay inside the launcher's executables folder";
    for (const char *reserved : reserved_names)
        if (name == reserved)
            return "the launcher keeps a file of that name for itself";
    return nullptr;
}

// Lowercase hexadecimal SHA-256 of the file's content; empty on a read failure.
std::string sha256_of(const std::string &path) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return "";
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    std::vector<unsigned char> block(1 << 16);
    size_t n;
    while ((n = fread(block.data(), 1, block.size(), file)) > 0)
        EVP_DigestUpdate(context, block.data(), n);
    const bool failed = ferror(file) != 0;
    fclose(file);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    EVP_MD_CTX_free(context);
    if (failed)
        return "";
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

bool make_folders(const std::string &path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// Copies through a side file renamed into place, so the server never serves half a file.
bool copy_file(const std::string &from, const std::string &to) {
    const std::string side = to + ".publishing";
    FILE *in = fopen(from.c_str(), "rb");
    if (in == nullptr)
        return false;
    FILE *out = fopen(side.c_str(), "wb");
    if (out == nullptr) {
        fclose(in);
        return false;
    }
    std::vector<char> block(1 << 16);
    size_t n;
    bool ok = true;
    while (ok && (n = fread(block.data(), 1, block.size(), in)) > 0)
        ok = fwrite(block.data(), 1, n, out) == n;
    ok = ok && ferror(in) == 0;
    fclose(in);
    ok = fclose(out) == 0 && ok;
    ok = ok && chmod(side.c_str(), 0644) == 0 && rename(side.c_str(), to.c_str()) == 0;
    if (!ok)
        unlink(side.c_str());
    return ok;
}

bool write_manifest(const std::string &path, const std::vector<image> &images) {
    const std::string side = path + ".publishing";
    gzFile out = gzopen(side.c_str(), "wb9");
    if (out == nullptr)
        return false;
    bool ok = true;
    for (const image &i : images)
        ok = ok && gzprintf(out, "%s %lld %s\n", i.hash.c_str(), i.size, i.name.c_str()) > 0;
    ok = gzclose(out) == Z_OK && ok;
    ok = ok && chmod(side.c_str(), 0644) == 0 && rename(side.c_str(), path.c_str()) == 0;
    if (!ok)
        unlink(side.c_str());
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        usage();
        return 2;
    }
    const std::string source = argv[1];
    const std::string target = std::string(argv[2]) + "/" + remote_directory;

    DIR *folder = opendir(source.c_str());
    if (folder == nullptr) {
        fprintf(stderr, "duskmere-publish: cannot read folder '%s': %s\n", source.c_str(),
                strerror(errno));
        return 1;
    }
    std::vector<image> images;
    bool refused = false;
    while (dirent *item = readdir(folder)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat status;
        const std::string path = source + "/" + name;
        if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            fprintf(stderr, "duskmere-publish: refusing '%s': not a plain file\n", name.c_str());
            refused = true;
            continue;
        }
        if (const char *why = refusal(name)) {
            fprintf(stderr, "duskmere-publish: refusing '%s': %s\n", name.c_str(), why);
            refused = true;
            continue;
        }
        if (status.st_size > 0x7fffffffLL) {
            fprintf(stderr, "duskmere-publish: refusing '%s': larger than 2 GiB - 1 bytes\n",
                    name.c_str());
            refused = true;
            continue;
        }
        images.push_back({name, "", static_cast<long long>(status.st_size)});
    }
    closedir(folder);
    if (refused)
        return 1;
    if (images.empty()) {
        fprintf(stderr, "duskmere-publish: no images in '%s'\n", source.c_str());
        return 1;
    }

    // Newest first: with version-numbered names the greatest name is the newest image.
    std::sort(images.begin(), images.end(),
              [](const image &a, const image &b) { return a.name > b.name; });
    if (!make_folders(target)) {
        fprintf(stderr, "duskmere-publish: cannot create '%s': %s\n", target.c_str(),
                strerror(errno));
        return 1;
    }
    for (image &i : images) {
        i.hash = sha256_of(source + "/" + i.name);
        if (i.hash.empty() || !copy_file(source + "/" + i.name, target + "/" + i.name)) {
            fprintf(stderr, "duskmere-publish: cannot publish '%s'\n", i.name.c_str());
            return 1;
        }
    }
    if (!write_manifest(target + "/" + manifest_name, images)) {
        fprintf(stderr, "duskmere-publish: cannot write '%s/%s'\n", target.c_str(), manifest_name);
        return 1;
    }
    for (const image &i : images)
        printf("published %s (%lld bytes, sha256 %s)\n", i.name.c_str(), i.size, i.hash.c_str());
    printf("manifest %s/%s lists %zu images\n", target.c_str(), manifest_name, images.size());
    return 0;
}
