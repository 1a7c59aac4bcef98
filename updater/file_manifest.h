// The manifest of installed files: records, the shared line syntax, load, save, lookup, prune.
#pragma once

#include "util/hash_table.h"

#include <cstdint>

// One listed file. Both texts are owned (dup_string) by whoever owns the record.
struct manifest_entry {
    char *name;           // relative to the files' directory; may hold "/" and blanks
    char *hash;           // opaque, as published; at least 10 lowercase hex digits first
    int32_t size;         // bytes, as published
    manifest_entry *next; // next record of the list, null at the end
};

// A record owning copies of name and hash, next null; null when memory ran out.
manifest_entry *new_manifest_entry(const char *name, const char *hash, int32_t size);
// Frees one record and its texts (not the ones after it). Null is fine.
void free_manifest_entry(manifest_entry *entry);
// Frees a whole list from head on. Null is fine.
void free_manifest_list(manifest_entry *head);

// Parses one line (without its line feed): "<hash> <size> <name>", blanks before, "#" lines
// and empty lines are comments. context names the source in syntax-error reports ("file
// manifest", "downloaded data"). *entry receives a new record owned by the caller, or
// null for a comment (and on errors).
// Returns 1 for a record or a comment, 0 for a syntax error (reported with the line).
int parse_manifest_line(const char *context, const char *line, manifest_entry **entry);

class tavu_file_manifest {
  public:
    tavu_file_manifest();
    // Frees every entry with its texts.
    ~tavu_file_manifest();
    tavu_file_manifest(const tavu_file_manifest &) = delete;
    tavu_file_manifest &operator=(const tavu_file_manifest &) = delete;

    // Appends the file's entries in file order. Returns the number added, or -1 when the
    // file cannot be opened or a line is bad (entries before the bad line are kept).
    int32_t load_file(const char *path);
    // Writes the header and one "%s %10d %s\n" line per entry, in list order.
    // Returns 1 when the whole file was written, 0 when it could not be created or
    // written completely (reported).
    int save_file(const char *path);
    // The entry of that name, or null.
    manifest_entry *find_entry(const char *name);
    // Copies hash and size of the record into the entry of its name, or inserts a copy of
    // the record at the head. Returns 1, or 0 when memory ran out or the record has no
    // name (the manifest is then unchanged).
    int update_entry(const manifest_entry *record);
    // Drops the entries whose file directory + "/" + name (the name alone for an empty or
    // null directory) has no readable status. Returns the number of entries kept.
    int32_t prune_missing_files(const char *directory);

    // Entries in list order; the manifest owns them. Read, don't relink.
    manifest_entry *head;

  private:
    bool index_entry(manifest_entry *entry);
    void unlink_entry(manifest_entry **link);

    VoidPointerHashTable index; // every entry, by name
    int unindexed;              // entries the index refused: lookups then walk the list
};
