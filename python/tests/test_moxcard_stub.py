# SPDX-License-Identifier: GPL-3.0-or-later
"""The type stub editors complete from names what the module has: every
public class, function and member, and nothing it lacks."""
import ast
import os

import pytest

import moxcard

STUB = os.path.join(os.path.dirname(moxcard.__file__), "moxcard.pyi")


def stub_names():
    tree = ast.parse(open(STUB, encoding="utf-8").read())
    names = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            members = set()
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    members.add(item.name)
                elif isinstance(item, ast.AnnAssign):
                    members.add(item.target.id)
            names[node.name] = members
        elif isinstance(node, ast.FunctionDef):
            names[node.name] = None
    return names


def public(obj):
    return {n for n in dir(obj) if not n.startswith("_")}


def test_the_stub_names_every_public_name_of_the_module():
    assert set(stub_names()) == public(moxcard)


@pytest.mark.parametrize("cls", sorted(n for n, m in stub_names().items() if m is not None))
def test_the_stub_names_every_member_of_a_class(cls):
    members = public(getattr(moxcard, cls)) - public(Exception)
    stubbed = {m for m in stub_names()[cls] if not m.startswith("_")}
    assert stubbed == members
