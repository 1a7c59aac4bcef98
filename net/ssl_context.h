// SSL context: the one process-wide OpenSSL context, its cipher list, files and DH groups.
#pragma once

#include <openssl/ssl.h>

// Creates the process-wide SSL context: protocol options, the current cipher list, the
// start-up hook, the temporary Diffie-Hellman callback and any files set beforehand.
// Returns 1 on success; 0 on failure, after reporting the reason and the first queued
// OpenSSL error. Runs on the main thread before any connection. A second call replaces
// the context (connections already made keep theirs).
int qorl_ssl_startup();

// The context made by qorl_ssl_startup, or null before it.
SSL_CTX *qorl_ssl_context();
// The cipher list in force, used by the start-up and by every later handshake.
const char *qorl_ssl_cipher_list();

// The context's temporary DH callback. Returns the built-in group of key_length bits
// (512, 768, 1024, 1536, 2048, 3072 or 4096), built on first request and cached for the
// life of the process (the same object every time; the caller must not free it), or null
// for another length or when building fails. Lengths below 1024 are reported as short.
DH *get_tmp_dh_callback(SSL *ssl, int is_export, int key_length);

// Cipher list choices: "aNULL:HIGH:@STRENGTH", "HIGH:@STRENGTH",
// "HIGH:@STRENGTH:!aNULL" (the default).
void use_cipher_list_allow_anonymous();
void use_cipher_list_high();
void use_cipher_list_high_no_anonymous();

// Optional files for a context that accepts connections. Each keeps at most 511
// characters of path; null or "" means no such file.
void set_ssl_verify_locations_file(const char *path);
void set_ssl_certificate_file(const char *path);
void set_ssl_private_key_file(const char *path);
// A function called during the start-up, after the cipher list is set; null for none.
void set_ssl_startup_hook(void (*hook)());
