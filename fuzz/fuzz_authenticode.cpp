// The PE and Authenticode parser over a file's bytes. The system's trust
// store is off; the seeds' self-signed publisher is the one anchor, so signed
// seeds reach the chain check and mutations of them every step before it.
#include "fuzzsupport.h"

#include "authenticode.h"

namespace {
const char seedAnchor[] = "-----BEGIN CERTIFICATE-----\n"
                          "MIIDPTCCAiWgAwIBAgIUH7VuoIluhaAeYjgvR88kzUbThugwDQYJKoZIhvcNAQEL\n"
                          "BQAwLjEaMBgGA1UEAwwRS2VzdHJ1bSBGdXp6IFNlZWQxEDAOBgNVBAoMB09ydmFs\n"
                          "aW4wHhcNMjYxMjEwMDMzODM5WhcNMzYxMjA3MDMzODM5WjAuMRowGAYDVQQDDBFL\n"
                          "ZXN0cnVtIEZ1enogU2VlZDEQMA4GA1UECgwHT3J2YWxpbjCCASIwDQYJKoZIhvcN\n"
                          "AQEBBQADggEPADCCAQoCggEBAN7PQaqXdmNbRpeJIGF0Zbxd1yqJjyGqgUJZmCFz\n"
                          "H1c+Okk1aLx9+OoH5mefloIvKFOPXhTNnrUeINiB4xs96+uvQ88MyGt7QGpZqEt2\n"
                          "QeorHKNCWk3soK9rpPo+rdWIlGg0xQ7EBqU9RE806w4eUicnyJ+UEVDCHWhARL2X\n"
                          "IuB6706FPZzknJYPOqjlZVEzMVG70BC6W/MhlTkKPewofi0aQ/2ar1X4U9DgY5xl\n"
                          "v+sNs7cUu//FrOCQVl3KLe3aiEWMuU4H5mhbB47mh8YxMnNg8ffaqh1sE+mEpT1V\n"
                          "pMb+vPIVTta57giGlfOgjGT15r5soG5RuYWxlUK4CXlXKn8CAwEAAaNTMFEwHQYD\n"
                          "VR0OBBYEFBoYLO3fHzwfrSZvE7aVmpFBNRKGMB8GA1UdIwQYMBaAFBoYLO3fHzwf\n"
                          "rSZvE7aVmpFBNRKGMA8GA1UdEwEB/wQFMAMBAf8wDQYJKoZIhvcNAQELBQADggEB\n"
                          "AJhknt2RHR3BldcepBHBgbDUUlWFfIIjySZEiTROFuoSIIEN5vhX4x6KWixNbI7d\n"
                          "rMJNUjSJofU3Q/Vh/vhDM9kCadHP1sga/NfmWLZzVaeSQuFW7gBtjGM1O3wySj8I\n"
                          "ncl+temgROWl7JTNryqy+TbzRAeyKzG6QD1oASJgvjgy6EBa4wsldFw0X8Mwt5zJ\n"
                          "1/phmWCkI+sKvkr84Barnmzj3SnYYy9x0zzAlssWVUQVRyn5ORT6OTZ7m4YbdyKK\n"
                          "3Cc8ELHt+4X4YtxZ7iwUlTsGvhSAv2OsmvEbzPeN8n9KmEXVXu7PXcNLx5qeoIkC\n"
                          "TlMhHkKVgTm3Jdt/fh6tcgA=\n"
                          "-----END CERTIFICATE-----\n";
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const Authenticode::TrustAnchors anchors{false, QByteArray(seedAnchor)};
    const Authenticode::BufferSource source(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    Authenticode::signerName(source, anchors);
    return 0;
}
