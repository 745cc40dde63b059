#!/bin/sh
# Test helper run by the test web server: shows the environment a CGI program receives there.
printf 'Content-Type: text/plain\r\n\r\n'
env
