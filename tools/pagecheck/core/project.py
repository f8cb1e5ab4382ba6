"""Where the project is: its source tree, and the version it gives itself."""
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def project_version():
    with open(os.path.join(ROOT, 'CMakeLists.txt')) as cmake:
        found = re.search(r'project\(\s*printtest\s+VERSION\s+([\d.]+)', cmake.read())
    return found and found.group(1)
