#!/usr/bin/env bash
# Builds the signed PE fixtures of tst_authenticode in the directory given as
# the first argument, which already holds unsigned32.exe and unsigned64.exe.
# A throw-away test CA signs a few publisher certificates and a timestamping
# authority, all dated so that some publishers have expired; osslsigncode signs
# the images, its built-in TSA adds RFC 3161 timestamps at chosen times.
set -euo pipefail
cd "$1"

mkdir -p db
: > db/index.txt
echo 1000 > db/serial
cat > ca.cnf <<'EOF'
[ca]
default_ca = test
[test]
database = db/index.txt
serial = db/serial
new_certs_dir = db
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = optional
organizationalUnitName = optional
organizationName = optional
[root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
[codesign]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
[serverauth]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
[anyeku]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = anyExtendedKeyUsage
[noeku]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
[lifetime]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning,1.3.6.1.4.1.311.10.3.13
[tsa]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
EOF

# issue NAME SUBJECT EXTENSIONS START END
issue() {
    openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
    openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in "$1.csr" -out "$1.pem" \
        -extensions "$3" -startdate "$4" -enddate "$5" -notext 2>/dev/null
}

openssl req -new -newkey rsa:2048 -nodes -keyout ca.key -out ca.csr -subj "/CN=Orvalin Test Root" 2>/dev/null
openssl ca -batch -config ca.cnf -selfsign -keyfile ca.key -in ca.csr -out ca.pem \
    -extensions root -startdate 20190101000000Z -enddate 20390101000000Z -notext 2>/dev/null

issue publisher "/O=Orvalin Test Org/OU=Orvalin Signing Unit/CN=Orvalin Test Publisher" codesign 20190101000000Z 20390101000000Z
issue nocn "/O=Orvalin Test Org/OU=Orvalin Signing Unit" codesign 20190101000000Z 20390101000000Z
issue server "/CN=Orvalin Web Server" serverauth 20190101000000Z 20390101000000Z
issue anyeku "/CN=Orvalin Any Purpose" anyeku 20190101000000Z 20390101000000Z
issue noeku "/CN=Orvalin No EKU" noeku 20190101000000Z 20390101000000Z
# Lifetime signing: its signatures end with the certificate, timestamp or not.
issue lifetime "/CN=Orvalin Lifetime Publisher" lifetime 20190101000000Z 20390101000000Z
issue lifetime-expired "/CN=Orvalin Former Lifetime Publisher" lifetime 20200101000000Z 20210101000000Z
issue expired "/CN=Orvalin Former Publisher" codesign 20200101000000Z 20210101000000Z
issue tsa "/CN=Orvalin Test TSA" tsa 20190101000000Z 20390101000000Z

# sign CERT IN OUT [osslsigncode options...]
sign() {
    local cert=$1 in=$2 out=$3
    shift 3
    osslsigncode sign -certs "$cert.pem" -key "$cert.key" -h sha256 -in "$in" -out "$out" "$@" >/dev/null
}

sign publisher unsigned64.exe signed64.exe
sign publisher unsigned32.exe signed32.exe
sign nocn unsigned64.exe nocn.exe
sign server unsigned64.exe serverauth.exe
sign anyeku unsigned64.exe anyeku.exe
sign noeku unsigned64.exe noeku.exe
sign lifetime unsigned64.exe lifetime-valid.exe
sign expired unsigned64.exe expired.exe
# 2020-06-01, inside the expired certificate's validity, and 2022-01-01 after it.
sign expired unsigned64.exe expired-stamped.exe -TSA-certs tsa.pem -TSA-key tsa.key -TSA-time 1590969600
sign expired unsigned64.exe expired-stamped-late.exe -TSA-certs tsa.pem -TSA-key tsa.key -TSA-time 1640995200
sign expired unsigned32.exe expired32-stamped.exe -TSA-certs tsa.pem -TSA-key tsa.key -TSA-time 1590969600
sign lifetime-expired unsigned64.exe lifetime-stamped.exe -TSA-certs tsa.pem -TSA-key tsa.key -TSA-time 1590969600
osslsigncode sign -certs publisher.pem -key publisher.key -h sha1 -in unsigned32.exe -out sha1.exe >/dev/null
