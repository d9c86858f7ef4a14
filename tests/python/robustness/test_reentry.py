"""Re-entering the module from code it runs while creating its one-time objects."""

from conftest import run_python


def test_import_hook_calling_the_module_during_first_type_message():
    # The first "not an instance of 'Sequence'" message imports collections.abc through
    # builtins.__import__; a hook there calls the module again on the same thread, and later
    # threads reach the same message. Nothing may wait forever.
    result = run_python(
        """
        import builtins, threading, xcover

        real_import = builtins.__import__
        inner = []

        def hook(name, *args, **kwargs):
            if name == "collections.abc" and not inner:
                inner.append("entered")
                try:
                    xcover.get_all(5)
                except TypeError as error:
                    inner.append(str(error))
            return real_import(name, *args, **kwargs)

        builtins.__import__ = hook
        try:
            xcover.get_all(5)
        except TypeError as error:
            outer = str(error)
        builtins.__import__ = real_import

        later = []
        def again():
            try:
                xcover.get_all(7)
            except TypeError as error:
                later.append(str(error))
        threads = [threading.Thread(target=again) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(inner)
        print(outer)
        print(len(later), set(later))
        """,
        timeout=60,
    )
    assert result.returncode == 0, result.stderr
    message = "argument 'partitions': 'int' object is not an instance of 'Sequence'"
    inner, outer, later = result.stdout.splitlines()
    assert inner == repr(["entered", message])
    assert outer == message
    assert later == f"4 {{{message!r}}}"
