// The manifest of installed files: records, the shared line syntax, load, save, lookup, prune.
#include "updater/file_manifest.h"

#include "client/debug_log.h"
#include "client/fixed_text.h"
#include "util/stream_io.h"
#include "util/string_utils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>

namespace {

constexpr int32_t line_buffer_size = 1024;
constexpr int hash_digits_checked = 10;
constexpr size_t short_hash_length = 19;

const char manifest_header[] = "# This is an automatically generated file - do not modify\n"
                               "# It contains a list of the files currently managed by the\n"
                               "# updater.  Changing or deleting it may cause your next\n"
                               "# update to download far more things than it needs.\n"
                               "\n";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
bool is_word_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool is_lower_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

uint32_t entry_hash(const void *thing) {
    return string_hash(static_cast<const manifest_entry *>(thing)->name);
}
uint32_t key_text_hash(const void *key) {
    return string_hash(static_cast<const char *>(key));
}
int entry_has_name(const void *thing, const void *key) {
    const char *name = static_cast<const manifest_entry *>(thing)->name;
    return name != nullptr && strcmp(name, static_cast<const char *>(key)) == 0;
}

void report_syntax_error(const char *context, const char *what, const char *line) {
    fixed_text message;
    message.clear();
    message.append("Syntax error in ");
    message.append(context);
    message.append(what);
    report_message(message.text, msg_data_file, module_updater);
    report_message(line, msg_data_file, module_updater);
}

void report_save_failure(const char *path) {
    fixed_text message;
    message.clear();
    message.append("Error in tavu_file_manifest::save_file() - unable to save file '");
    message.append(path);
    message.append("'.");
    report_message(message.text, msg_data_file, module_updater);
}

} // namespace

manifest_entry *new_manifest_entry(const char *name, const char *hash, int32_t size) {
    auto *entry =
        new (std::nothrow) manifest_entry{dup_string(name), dup_string(hash), size, nullptr};
    if (entry == nullptr)
        return nullptr;
    if ((name != nullptr && entry->name == nullptr) ||
        (hash != nullptr && entry->hash == nullptr)) {
        free_manifest_entry(entry);
        return nullptr;
    }
    return entry;
}

void free_manifest_entry(manifest_entry *entry) {
    if (entry == nullptr)
        return;
    free_string(&entry->name);
    free_string(&entry->hash);
    delete entry;
}

void free_manifest_list(manifest_entry *head) {
    while (head != nullptr) {
        manifest_entry *next = head->next;
        free_manifest_entry(head);
        head = next;
    }
}

int parse_manifest_line(const char *context, const char *line, manifest_entry **entry) {
    if (entry != nullptr)
        *entry = nullptr;
    if (line == nullptr)
        return 1;
    const char *p = line;
    while (is_blank(*p))
        ++p;
    if (*p == '#' || *p == '\0')
        return 1;

    for (int i = 0; i < hash_digits_checked; ++i) {
        if (!is_lower_hex(p[i])) {
            report_syntax_error(context, " - bad or missing hash field for line:", line);
            return 0;
        }
    }
    fixed_text hash;
    hash.clear();
    while (*p != '\0' && !is_word_separator(*p))
        hash.append_char(*p++);

    while (is_word_separator(*p))
        ++p;
    int32_t size = 0;
    if (*p == '\0' || !parse_int(p, &size)) {
        report_syntax_error(context, " - bad or missing file size for line:", line);
        return 0;
    }
    while (*p != '\0' && !is_word_separator(*p))
        ++p;
    while (is_word_separator(*p))
        ++p;
    if (*p == '\0') {
        report_syntax_error(context, " - missing file name for line:", line);
        return 0;
    }
    manifest_entry *parsed = new_manifest_entry(p, hash.text, size);
    if (parsed == nullptr) {
        report_message("Error in parse_manifest_line(), out of memory.", msg_resource,
                       module_updater);
        return 0;
    }
    if (entry != nullptr)
        *entry = parsed;
    else
        free_manifest_entry(parsed);
    return 1;
}

tavu_file_manifest::tavu_file_manifest()
    : head(nullptr), index(entry_hash, key_text_hash, entry_has_name), unindexed(0) {}

tavu_file_manifest::~tavu_file_manifest() {
    free_manifest_list(head);
    head = nullptr;
    index.clear();
}

bool tavu_file_manifest::index_entry(manifest_entry *entry) {
    if (index.add(entry))
        return true;
    ++unindexed; // still listed; lookups fall back to walking the list
    return false;
}

int32_t tavu_file_manifest::load_file(const char *path) {
    FILE *file = path ? fopen(path, "rb") : nullptr;
    if (file == nullptr)
        return -1;
    manifest_entry **tail = &head;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    int32_t added = 0;
    char line[line_buffer_size];
    while (fget_line(file, line, line_buffer_size) > 0) {
        manifest_entry *entry = nullptr;
        if (!parse_manifest_line("file manifest", line, &entry)) {
            fclose(file);
            return -1;
        }
        if (entry == nullptr)
            continue;
        *tail = entry;
        tail = &entry->next;
        index_entry(entry);
        ++added;
    }
    fclose(file);
    return added;
}

int tavu_file_manifest::save_file(const char *path) {
    FILE *file = path ? fopen(path, "wb") : nullptr;
    if (file == nullptr) {
        report_save_failure(path);
        return 0;
    }
    fputs(manifest_header, file);
    for (const manifest_entry *e = head; e != nullptr; e = e->next) {
        const char *hash = e->hash ? e->hash : "";
        size_t hash_length = strlen(hash);
        if (hash_length <= short_hash_length) {
            char length_text[32];
            snprintf(length_text, sizeof length_text, "%zu", hash_length);
            fixed_text message;
            message.clear();
            message.append("Error in tavu_file_manifest::save_file(), file '");
            message.append(e->name);
            message.append("' had short hash len of ");
            message.append(length_text);
            message.append(".\n");
            report_message(message.text, msg_data_content, module_updater);
        }
        fprintf(file, "%s %10d %s\n", hash, int(e->size), e->name ? e->name : "(null)");
    }
    // A full disk shows only here: the caller must not take a cut file for a saved one.
    bool written = !ferror(file);
    if (fclose(file) != 0)
        written = false;
    if (!written) {
        report_save_failure(path);
        return 0;
    }
    return 1;
}

manifest_entry *tavu_file_manifest::find_entry(const char *name) {
    if (name == nullptr)
        return nullptr;
    if (unindexed == 0)
        return static_cast<manifest_entry *>(index.find(name));
    for (manifest_entry *e = head; e != nullptr; e = e->next)
        if (e->name != nullptr && strcmp(e->name, name) == 0)
            return e;
    return nullptr;
}

int tavu_file_manifest::update_entry(const manifest_entry *record) {
    if (record == nullptr || record->name == nullptr)
        return 0;
    manifest_entry *existing = find_entry(record->name);
    if (existing != nullptr) {
        char *hash = dup_string(record->hash);
        if (record->hash != nullptr && hash == nullptr)
            return 0;
        free_string(&existing->hash);
        existing->hash = hash;
        existing->size = record->size;
        return 1;
    }
    manifest_entry *entry = new_manifest_entry(record->name, record->hash, record->size);
    if (entry == nullptr)
        return 0;
    entry->next = head;
    head = entry;
    index_entry(entry);
    return 1;
}

void tavu_file_manifest::unlink_entry(manifest_entry **link) {
    manifest_entry *entry = *link;
    *link = entry->next;
    if (!index.remove(entry) && unindexed > 0)
        --unindexed;
    free_manifest_entry(entry);
}

int32_t tavu_file_manifest::prune_missing_files(const char *directory) {
    bool in_directory = directory != nullptr && *directory != '\0';
    int32_t kept = 0;
    fixed_text path;
    manifest_entry **link = &head;
    while (*link != nullptr) {
        path.clear();
        if (in_directory) {
            path.append(directory);
            path.append("/");
        }
        path.append((*link)->name);
        struct stat st;
        if (stat(path.text, &st) != 0) {
            unlink_entry(link);
        } else {
            ++kept;
            link = &(*link)->next;
        }
    }
    return kept;
}
