#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\n'
exec /usr/bin/clientmac
