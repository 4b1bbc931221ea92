// TlsTestServer: an https server on 127.0.0.1 with a freshly made self-signed certificate that
// no system store trusts. Serves the body "secure" on /feed.
#pragma once

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

class TlsTestServer {
public:
    TlsTestServer()
    {
        key = EVP_RSA_gen(2048);
        certificate = X509_new();
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
        X509_set_pubkey(certificate, key);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
            reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        X509_sign(certificate, key, EVP_sha256());

        // The server takes its own references to both.
        server = std::make_unique<httplib::SSLServer>(certificate, key);
        server->Get("/feed", [](const httplib::Request&, httplib::Response& response) {
            response.set_header("Connection", "close");
            response.set_content("secure", "text/plain");
        });
        port = server->bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server->listen_after_bind(); });
        for (int tries = 0; !server->is_running() && tries < 5000; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TlsTestServer()
    {
        server->stop();
        if (thread.joinable())
            thread.join();
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    bool IsValid() const { return server && server->is_valid() && port > 0; }
    std::string Url(const std::string& path) const
    {
        return "https://127.0.0.1:" + std::to_string(port) + path;
    }

private:
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    int port = 0;
};
