#!/bin/sh
# certbot deploy hook: nginx takes the renewed certificate without dropping
# a connection. Install as /etc/letsencrypt/renewal-hooks/deploy/reload-nginx.
exec systemctl reload nginx
