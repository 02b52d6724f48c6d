// The PE and Authenticode parser over a file's bytes. The system's trust
// store is off; the seeds' self-signed publisher and the CA of the seeds with
// refused certificate purposes are the anchors, so signed seeds reach the
// chain check and mutations of them every step before it.
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
// Issued the "any purpose" leaf of anyeku_leaf, and the expired lifetime-signing
// leaf and the timestamping authority of lifetime_expired_stamped.
const char seedCa[] = "-----BEGIN CERTIFICATE-----\n"
                      "MIIC/DCCAeSgAwIBAgICIAAwDQYJKoZIhvcNAQELBQAwHzEdMBsGA1UEAwwUS2Vz\n"
                      "dHJ1bSBGdXp6IFNlZWQgQ0EwHhcNMTkwMTAxMDAwMDAwWhcNNDkwMTAxMDAwMDAw\n"
                      "WjAfMR0wGwYDVQQDDBRLZXN0cnVtIEZ1enogU2VlZCBDQTCCASIwDQYJKoZIhvcN\n"
                      "AQEBBQADggEPADCCAQoCggEBAPIX2EuiILrYXhPT/DF90Xr4gUMaYjmOa9rafVvk\n"
                      "X1ai+2xJRJv1snQoMbrJFtwNbC58zyUD989HvpcCzUFIIO050R4tt8AHPHSFF0Ye\n"
                      "aE6kPAEoh/nVXf8Pw27a+38MLUDw7wit6/kpRc9ULaBBF4qpKNeFg2Q7rYLRjVm0\n"
                      "LKKw0lhbDUFPGhb3R5IJ3o8MsjzarJAV80ZeO9CS7wtwMGhudEwmeCONCsAkYKiO\n"
                      "5QaSJc+qBrQdpkdzCPQ/dTquIUVnnedBexACE4cShioNqyJB8qD9T29dFvLcDbr2\n"
                      "6eG14L4pQA9owOKcKrSs6FqxcCFoddvSvcmK3xADfMeRWTMCAwEAAaNCMEAwDwYD\n"
                      "VR0TAQH/BAUwAwEB/zAOBgNVHQ8BAf8EBAMCAQYwHQYDVR0OBBYEFF9e/Sza3cUx\n"
                      "bv1tikYdpqZhq40IMA0GCSqGSIb3DQEBCwUAA4IBAQBz0bTF+Z0RhhsLz18xGS4R\n"
                      "OLqzbyi2rl9V6bfFk+os/fqsdESyhZa2cX3/94zfU/NP/bRuvhoynqfo/9xFFV4j\n"
                      "UiLIO4SQ4NWm9U9xEFMFF8AMrC+uxKhlClw/tqMbrhW6rn9xoY1T36GREETrCVHZ\n"
                      "EmgYrcxTpWp6VrFAYzN4sCSH1qMnlJOb79/PqDI9t/K8uzJ6DXpOajWaFPRfbcNY\n"
                      "FjRPQMmgvf14lErRP+ud8IueI7AAdtF7Mwg/1ogSztojKsHj5+7pTZmnrAGoJqu/\n"
                      "MkmPsWpcA/VuIPjJ0kEiiGrwCnFNMYMWslhhuOYiZ9vEE98lh2FywpP7NmdbRH84\n"
                      "-----END CERTIFICATE-----\n";
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const Authenticode::TrustAnchors anchors{false, QByteArray(seedAnchor) + QByteArray(seedCa)};
    const Authenticode::BufferSource source(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    Authenticode::signerName(source, anchors);
    return 0;
}
