#!/usr/bin/python3
"""Announces PEERS engines to a qg-lookup that trusts 127.0.0.1 as its proxy: each engine
has a forwarded address of its own group (200 engines per address, under the cap of 256)
and holds half of one of FILES files (file i has digest "%032x" % i). Prints the count of
announcements answered 200.

  lookup_seed.py PORT PEERS FILES
"""
import http.client
import sys


def main():
    port, peers, files = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    connection = http.client.HTTPConnection("127.0.0.1", port)
    ok = 0
    for i in range(peers):
        group, engine = divmod(i, 200)
        address = "127.1.%d.%d" % (group // 250, group % 250 + 1)
        md5 = "%032x" % (i % files)
        body = ("key=%s&port=%d&length=104857600&held=52428800&md5=%s&url=http%%3A%%2F%%2F"
                "origin.example%%2Ff%d.pak" % (md5, 7000 + engine, md5, i % files))
        connection.request("POST", "/announce", body, {
            "Content-Type": "application/x-www-form-urlencoded",
            "X-Forwarded-For": address,
        })
        response = connection.getresponse()
        response.read()
        ok += response.status == 200
    print(ok)


if __name__ == "__main__":
    main()
