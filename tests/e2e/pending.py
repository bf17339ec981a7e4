# SPDX-License-Identifier: GPL-3.0-or-later
"""Features the end-to-end scenarios need that are not in this tree yet.

A scenario marked with needs(feature) runs as an expected failure while its
feature is listed here. Once the feature lands the scenario passes, which
counts as a failure ("unexpected success") until the entry is removed, so no
scenario stays excused after its feature exists.
"""

import functools
import unittest

import harness

PENDING = {
}


def needs(*features):
    """Marks a scenario as depending on features; expected to fail while any is pending."""
    missing = [f for f in features if f in PENDING]

    def wrap(fn):
        if not missing:
            return fn

        @functools.wraps(fn)
        def run(*args, **kwargs):
            # A scenario that cannot pass yet need not wait long for it.
            harness.TIMEOUT_CAP = 1.5
            try:
                return fn(*args, **kwargs)
            finally:
                harness.TIMEOUT_CAP = None

        run.__doc__ = (fn.__doc__ or "") + " [pending: " + "; ".join(PENDING[f] for f in missing) + "]"
        return unittest.expectedFailure(run)

    return wrap
