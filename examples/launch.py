#!/usr/bin/env python3
"""launch VERSION PUBLISHER_HEX PROGRAM [ARG...], in Python through ctypes: the launcher of
launch.c. It finds the installed bundle of VERSION, verifies it with the publisher, the version
and this machine's architecture required, checks that nobody but root and the caller can change
it, and execs the bundle's loader on PROGRAM (a path) with the caller's environment less its LD_
variables.

The library is loaded as libsarn-runtime-bundle.so.1 from the loader's usual places, or from the
path in SARN_RUNTIME_BUNDLE_LIBRARY.
"""

import ctypes
import os
import sys

lib = ctypes.CDLL(os.environ.get("SARN_RUNTIME_BUNDLE_LIBRARY", "libsarn-runtime-bundle.so.1"))

size_t = ctypes.c_size_t
error_p = ctypes.c_void_p
texts = ctypes.POINTER(ctypes.c_char_p)

lib.srb_launch_request_new.argtypes = [ctypes.c_char_p, size_t]
lib.srb_launch_request_new.restype = ctypes.c_void_p
lib.srb_launch_request_require_publisher.argtypes = [ctypes.c_void_p, ctypes.c_char_p, size_t]
lib.srb_launch_request_free.argtypes = [ctypes.c_void_p]
lib.srb_plan_launch.argtypes = [ctypes.c_void_p, ctypes.POINTER(error_p)]
lib.srb_plan_launch.restype = ctypes.c_void_p
lib.srb_launch_plan_command.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p,
                                        texts, size_t, ctypes.POINTER(error_p)]
lib.srb_launch_plan_command.restype = texts
lib.srb_launch_plan_free.argtypes = [ctypes.c_void_p]
lib.srb_launch_environment.argtypes = [texts, ctypes.POINTER(error_p)]
lib.srb_launch_environment.restype = texts
lib.srb_argv_free.argtypes = [texts]
lib.srb_error_message.argtypes = [error_p, ctypes.POINTER(size_t)]
lib.srb_error_message.restype = ctypes.c_char_p
lib.srb_error_get_kind.argtypes = [error_p]
lib.srb_error_get_kind.restype = ctypes.c_int
lib.srb_error_path.argtypes = [error_p, ctypes.POINTER(size_t)]
lib.srb_error_path.restype = ctypes.c_char_p
lib.srb_error_free.argtypes = [error_p]


def fail(error):
    message = lib.srb_error_message(error, None).decode(errors="replace")
    text = f"launch: {message} (kind {lib.srb_error_get_kind(error)}"
    path = lib.srb_error_path(error, None)
    if path is not None:
        text += f", file {path.decode(errors='replace')}"
    sys.stderr.write(text + ")\n")
    lib.srb_error_free(error)
    return 1


def strings(vector):
    """The texts of a NULL-terminated vector from the library, as bytes."""
    out = []
    while vector[len(out)] is not None:
        out.append(vector[len(out)])
    return out


def main(argv):
    if len(argv) < 4:
        sys.stderr.write("usage: launch VERSION PUBLISHER_HEX PROGRAM [ARG...]\n")
        return 2
    version, publisher, program = (os.fsencode(arg) for arg in argv[1:4])
    args = [os.fsencode(arg) for arg in argv[4:]]

    request = lib.srb_launch_request_new(version, len(version))
    if not request or lib.srb_launch_request_require_publisher(request, publisher,
                                                               len(publisher)) != 0:
        sys.stderr.write("launch: out of memory\n")
        return 1
    error = error_p()
    plan = lib.srb_plan_launch(request, ctypes.byref(error))
    lib.srb_launch_request_free(request)
    if not plan:
        return fail(error)

    arg_vector = (ctypes.c_char_p * (len(args) + 1))(*args, None)
    command = lib.srb_launch_plan_command(plan, program, None, arg_vector, len(args),
                                          ctypes.byref(error))
    lib.srb_launch_plan_free(plan)
    if not command:
        return fail(error)
    environment = lib.srb_launch_environment(None, ctypes.byref(error))
    if not environment:
        return fail(error)
    command_texts = strings(command)
    environment_texts = dict(entry.split(b"=", 1) for entry in strings(environment))
    lib.srb_argv_free(command)
    lib.srb_argv_free(environment)
    os.execve(command_texts[0], command_texts, environment_texts)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
