// SSL context: start-up of the process-wide context and the lazily built DH groups.
#define OPENSSL_SUPPRESS_DEPRECATED // the DH and RSA key calls are deprecated in 3.0
#include "net/ssl_context.h"

#include "client/debug_log.h"
#include "net/dh_groups.h"

#include <openssl/bn.h>
#include <openssl/dh.h>
#include <openssl/err.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr const char *cipher_list_allow_anonymous = "aNULL:HIGH:@STRENGTH";
constexpr const char *cipher_list_high = "HIGH:@STRENGTH";
constexpr const char *cipher_list_high_no_anonymous = "HIGH:@STRENGTH:!aNULL";

// Set on the main thread, read by the worker's handshakes: kept atomic.
std::atomic<SSL_CTX *> ssl_context{nullptr};
std::atomic<const char *> cipher_list{cipher_list_high_no_anonymous};
std::atomic<void (*)()> startup_hook{nullptr};

constexpr size_t path_size = 512;
char verify_locations_file[path_size];
char certificate_file[path_size];
char private_key_file[path_size];

// Built groups, one per entry of dh_groups; guarded so two handshakes never build twice.
std::mutex dh_mutex;
DH *dh_cache[dh_group_count];

void set_path(char *slot, const char *path) {
    slot[0] = '\0';
    if (path == nullptr)
        return;
    strncpy(slot, path, path_size - 1);
    slot[path_size - 1] = '\0';
}

DH *build_group(const dh_group_parameters &group) {
    DH *dh = DH_new();
    if (dh == nullptr)
        return nullptr;
    BIGNUM *p = BN_bin2bn(group.prime, int(group.prime_length), nullptr);
    BIGNUM *g = BN_bin2bn(group.generator, int(group.generator_length), nullptr);
    if (p == nullptr || g == nullptr || DH_set0_pqg(dh, p, nullptr, g) != 1) {
        BN_free(p);
        BN_free(g);
        DH_free(dh);
        return nullptr;
    }
    return dh;
}

// Reports the first queued OpenSSL error in category 0x1.
void report_first_openssl_error() {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    report_message(text, msg_resource, module_ssl);
}

int fail_with_file(const char *format, const char *file) {
    char message[1024];
    snprintf(message, sizeof message, format, file);
    report_message(message, msg_resource, module_ssl);
    report_first_openssl_error();
    return 0;
}

} // namespace

SSL_CTX *qorl_ssl_context() {
    return ssl_context.load();
}
const char *qorl_ssl_cipher_list() {
    return cipher_list.load();
}

void use_cipher_list_allow_anonymous() {
    cipher_list = cipher_list_allow_anonymous;
}
void use_cipher_list_high() {
    cipher_list = cipher_list_high;
}
void use_cipher_list_high_no_anonymous() {
    cipher_list = cipher_list_high_no_anonymous;
}

void set_ssl_verify_locations_file(const char *path) {
    set_path(verify_locations_file, path);
}
void set_ssl_certificate_file(const char *path) {
    set_path(certificate_file, path);
}
void set_ssl_private_key_file(const char *path) {
    set_path(private_key_file, path);
}
void set_ssl_startup_hook(void (*hook)()) {
    startup_hook = hook;
}

DH *get_tmp_dh_callback(SSL * /*ssl*/, int is_export, int key_length) {
    char message[1024];
    if (key_length < 1024) {
        snprintf(message, sizeof message,
                 "Warning in get_tmp_dh_callback(), requested short key length %4d, export %d.",
                 key_length, is_export);
        report_message(message, msg_protocol, module_ssl);
    }
    for (int i = 0; i < dh_group_count; ++i) {
        if (dh_groups[i].bits != key_length)
            continue;
        std::lock_guard<std::mutex> lock(dh_mutex);
        if (dh_cache[i] == nullptr)
            dh_cache[i] = build_group(dh_groups[i]);
        return dh_cache[i];
    }
    snprintf(message, sizeof message,
             "Warning in get_tmp_dh_callback(), unsupported key length %4d, export %d.", key_length,
             is_export);
    report_message(message, msg_input_format, module_ssl);
    return nullptr;
}

int qorl_ssl_startup() {
    SSL_load_error_strings();
    SSL_library_init();
    const SSL_METHOD *method = SSLv23_method();
    if (method == nullptr) {
        report_first_openssl_error();
        return 0;
    }
    SSL_CTX *context = SSL_CTX_new(method);
    if (context == nullptr) {
        report_first_openssl_error();
        return 0;
    }
    // Handshakes already made hold their own reference to the context they came from.
    SSL_CTX *previous = ssl_context.exchange(context);
    if (previous != nullptr)
        SSL_CTX_free(previous);

    // A peer that closes without a closing alert ends the stream cleanly, as it did
    // before OpenSSL 3 made that an error.
    if (SSL_CTX_set_options(context, SSL_OP_NO_SSLv2 | SSL_OP_IGNORE_UNEXPECTED_EOF) == 0) {
        report_first_openssl_error();
        return 0;
    }
    // Writes may finish in part and be retried from a moved buffer, like plain writes.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (SSL_CTX_set_cipher_list(context, cipher_list.load()) == 0) {
        report_first_openssl_error();
        return 0;
    }
    if (void (*hook)() = startup_hook.load())
        hook();
    SSL_CTX_set_tmp_dh_callback(context, get_tmp_dh_callback);

    if (verify_locations_file[0] != '\0' &&
        SSL_CTX_load_verify_locations(context, verify_locations_file, nullptr) != 1)
        return fail_with_file(
            "Error in init_ssl(), unable to load server certificate chain from file '%s'.",
            verify_locations_file);
    if (certificate_file[0] != '\0' &&
        SSL_CTX_use_certificate_file(context, certificate_file, SSL_FILETYPE_PEM) != 1)
        return fail_with_file(
            "Error in init_ssl(), unable to load server certificate from file '%s'.",
            certificate_file);
    if (private_key_file[0] != '\0' &&
        SSL_CTX_use_RSAPrivateKey_file(context, private_key_file, SSL_FILETYPE_PEM) != 1)
        return fail_with_file(
            "Error in init_ssl(), unable to load server private key from file '%s'.",
            private_key_file);
    return 1;
}
