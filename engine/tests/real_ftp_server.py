#!/usr/bin/python3
"""pyftpdlib serving one folder read-only on a free port of 127.0.0.1 for the FTP tests;
prints the port on the first line of stdout.

  real_ftp_server.py DIR                   anonymous logins
  real_ftp_server.py DIR USER PASSWORD     that user only
Every RETR is counted in DIR/../ftp-PORT.count (one line per transfer asked for).
"""
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    folder = sys.argv[1]
    authorizer = DummyAuthorizer()
    if len(sys.argv) > 3:
        authorizer.add_user(sys.argv[2], sys.argv[3], folder, perm="elr")
    else:
        authorizer.add_anonymous(folder)
    class CountingHandler(FTPHandler):
        def ftp_RETR(self, file):
            with open(os.path.join(folder, "..", "ftp-%d.count" % port), "a") as log:
                log.write("%s %d\n" % (file, self._restart_position))
            return FTPHandler.ftp_RETR(self, file)

    handler = CountingHandler
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0.05  # the default pause of 3 s only slows the tests
    logging.basicConfig(level=logging.CRITICAL)
    logging.getLogger("pyftpdlib").setLevel(logging.CRITICAL)
    server = FTPServer(("127.0.0.1", 0), handler)
    port = server.address[1]
    print(port, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
