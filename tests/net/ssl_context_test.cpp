// SSL context start-up: no files, a missing verify file, path setters, the DH groups.
#define OPENSSL_SUPPRESS_DEPRECATED // the DH accessors are deprecated in OpenSSL 3
#include "net/ssl_context.h"

#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/dh.h>

#include <string>

namespace {

int hook_calls = 0;
void count_hook_call() {
    ++hook_calls;
}

TEST(SslStartup, WithoutFilesSucceeds) {
    log_capture log;
    set_ssl_startup_hook(count_hook_call);
    hook_calls = 0;
    EXPECT_EQ(qorl_ssl_startup(), 1);
    set_ssl_startup_hook(nullptr);
    EXPECT_NE(qorl_ssl_context(), nullptr);
    EXPECT_EQ(hook_calls, 1);
    EXPECT_STREQ(qorl_ssl_cipher_list(), "HIGH:@STRENGTH:!aNULL");
    EXPECT_EQ(log.text(), "") << "a sound start-up reports nothing";
    // Starting again replaces the context without losing it (LeakSanitizer watches).
    EXPECT_EQ(qorl_ssl_startup(), 1);
}

TEST(SslStartup, MissingFilesFailWithTheirMessage) {
    struct row {
        void (*setter)(const char *);
        const char *message;
    };
    const row rows[] = {
        {set_ssl_verify_locations_file,
         "Error in init_ssl(), unable to load server certificate chain from file '"},
        {set_ssl_certificate_file,
         "Error in init_ssl(), unable to load server certificate from file '"},
        {set_ssl_private_key_file,
         "Error in init_ssl(), unable to load server private key from file '"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.message);
        log_capture log;
        r.setter("/nonexistent/ssl/file.pem");
        EXPECT_EQ(qorl_ssl_startup(), 0);
        r.setter(nullptr);
        std::string text = log.text();
        std::string expected = std::string(r.message) + "/nonexistent/ssl/file.pem'.\n";
        EXPECT_EQ(text.compare(0, expected.size(), expected), 0) << text;
        // Then the first queued OpenSSL error on a line of its own.
        EXPECT_NE(text.find("\nerror:", expected.size() - 1), std::string::npos) << text;
        EXPECT_EQ(qorl_ssl_startup(), 1) << "a cleared setting no longer fails";
    }
}

TEST(SslStartup, PathSettersKeep511Characters) {
    log_capture log;
    std::string path = "/" + std::string(599, 'p');
    set_ssl_verify_locations_file(path.c_str());
    EXPECT_EQ(qorl_ssl_startup(), 0);
    set_ssl_verify_locations_file(nullptr);
    std::string text = log.text();
    EXPECT_NE(text.find("'" + path.substr(0, 511) + "'."), std::string::npos) << text;
    set_ssl_verify_locations_file("");
    EXPECT_EQ(qorl_ssl_startup(), 1);
}

TEST(SslStartup, CipherListChoice) {
    use_cipher_list_allow_anonymous();
    EXPECT_STREQ(qorl_ssl_cipher_list(), "aNULL:HIGH:@STRENGTH");
    EXPECT_EQ(qorl_ssl_startup(), 1);
    use_cipher_list_high();
    EXPECT_STREQ(qorl_ssl_cipher_list(), "HIGH:@STRENGTH");
    EXPECT_EQ(qorl_ssl_startup(), 1);
    use_cipher_list_high_no_anonymous();
    EXPECT_STREQ(qorl_ssl_cipher_list(), "HIGH:@STRENGTH:!aNULL");
}

TEST(DhCallback, GroupsBySize) {
    struct row {
        int bits;
        bool short_warning;
    };
    const row rows[] = {{512, true},   {768, true},   {1024, false}, {1536, false},
                        {2048, false}, {3072, false}, {4096, false}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.bits);
        log_capture log;
        DH *dh = get_tmp_dh_callback(nullptr, 0, r.bits);
        ASSERT_NE(dh, nullptr);
        EXPECT_EQ(get_tmp_dh_callback(nullptr, 0, r.bits), dh) << "built once, then cached";
        const BIGNUM *p = nullptr, *q = nullptr, *g = nullptr;
        DH_get0_pqg(dh, &p, &q, &g);
        EXPECT_EQ(BN_num_bits(p), r.bits);
        EXPECT_TRUE(BN_is_word(g, 2));
        EXPECT_EQ(BN_mod_word(p, 24), 11u);
        char expected[128];
        snprintf(expected, sizeof expected,
                 "Warning in get_tmp_dh_callback(), requested short key length %4d, export 0.\n",
                 r.bits);
        EXPECT_EQ(log.contains(expected), r.short_warning);
    }
}

TEST(DhCallback, SafePrimes) {
    // The smaller groups are cheap enough to prove: p and (p - 1) / 2 both prime.
    for (int bits : {512, 768, 1024}) {
        const BIGNUM *p = nullptr;
        DH_get0_pqg(get_tmp_dh_callback(nullptr, 0, bits), &p, nullptr, nullptr);
        BIGNUM *q = BN_dup(p);
        BN_rshift1(q, q);
        EXPECT_EQ(BN_check_prime(p, nullptr, nullptr), 1) << bits;
        EXPECT_EQ(BN_check_prime(q, nullptr, nullptr), 1) << bits;
        BN_free(q);
    }
}

TEST(DhCallback, UnsupportedLength) {
    log_capture log;
    EXPECT_EQ(get_tmp_dh_callback(nullptr, 1, 1000), nullptr);
    EXPECT_EQ(log.text(),
              "Warning in get_tmp_dh_callback(), requested short key length 1000, export 1.\n"
              "Warning in get_tmp_dh_callback(), unsupported key length 1000, export 1.\n");
    EXPECT_EQ(get_tmp_dh_callback(nullptr, 0, 8192), nullptr);
}

} // namespace
