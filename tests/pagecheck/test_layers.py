"""The checker's packages in layers: a module imports only from its own package or from those
below it, no modules import each other in a circle, nothing imports a command, no function takes
more than six parameters, every reader has the registry's entry points; and judging a picture
loads neither libcups nor the printing stack."""
import ast
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(os.path.dirname(os.path.dirname(HERE)), 'tools')
# Each package by its layer: a package may use those of lower layers, none of its own layer but
# itself, none above it.
LAYERS = {'core': 0, 'readers': 1, 'measure': 2, 'report': 3, 'stack': 3, 'sheets': 4, 'commands': 5}
MOST_PARAMETERS = 6
ENTRY_POINTS = ('LANGUAGES', 'PPD_KEYWORDS', 'sniff', 'language', 'device_code', 'title', 'paper', 'render')


def modules(root):
    """{module name: its syntax tree} of every module of the package at root."""
    found = {}
    base = os.path.dirname(root)
    for folder, _, names in os.walk(root):
        for name in sorted(names):
            if name.endswith('.py'):
                path = os.path.join(folder, name)
                dotted = os.path.relpath(path, base)[:-len('.py')].replace(os.sep, '.')
                with open(path) as source:
                    found[dotted.removesuffix('.__init__')] = ast.parse(source.read(), path)
    return found


def imported(name, tree, known):
    """The package's modules that a module imports, wherever the import stands (a function's
    own import is an import all the same), with the line of each."""
    package = name if name + '.__init__' in known or any(other.startswith(name + '.') for other in known) \
        else name.rsplit('.', 1)[0]
    found = []
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            targets = [alias.name for alias in node.names]
        elif isinstance(node, ast.ImportFrom):
            start = package.split('.')[:len(package.split('.')) - node.level + 1] if node.level else []
            stem = '.'.join(start + ([node.module] if node.module else []))
            targets = [f'{stem}.{alias.name}' if f'{stem}.{alias.name}' in known else stem for alias in node.names]
        else:
            continue
        found += [(target, node.lineno) for target in targets if target in known]
    return found


def layer_of(name):
    parts = name.split('.')
    return parts[1] if len(parts) > 1 else None


def is_command(name, tree):
    return layer_of(name) == 'commands' and any(isinstance(node, ast.FunctionDef) and node.name == 'main'
                                                 for node in tree.body)


def violations(root):
    """What breaks the rules in the package at root, a line each."""
    trees = modules(root)
    graph, found = {}, []
    for name, tree in trees.items():
        graph[name] = set()
        for target, line in imported(name, tree, trees):
            if target == name:
                continue
            graph[name].add(target)
            own, other = layer_of(name), layer_of(target)
            if other is None or own is None:
                continue
            if other not in LAYERS:
                found.append(f'{name} line {line}: {target} is in no layer')
            elif other != own and LAYERS[other] >= LAYERS.get(own, -1):
                found.append(f'{name} line {line} imports {target}: {other} is not below {own}')
            if is_command(target, trees[target]):
                found.append(f'{name} line {line} imports the command {target}')
        for node in ast.walk(tree):
            if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.Lambda)):
                arguments = node.args
                names = [argument.arg for argument in arguments.posonlyargs + arguments.args + arguments.kwonlyargs]
                names += [argument.arg for argument in (arguments.vararg, arguments.kwarg) if argument]
                count = len([argument for argument in names if argument not in ('self', 'cls')])
                if count > MOST_PARAMETERS:
                    found.append(f'{name} line {node.lineno}: {getattr(node, "name", "lambda")} takes {count} '
                                 f'parameters')
    return sorted(found) + [f'a circle of imports: {" -> ".join(circle)}' for circle in circles(graph)]


def circles(graph):
    """Each circle of imports once, from its least module."""
    found = set()

    def visit(name, path):
        for target in sorted(graph.get(name, ())):
            if target == path[0]:
                found.add(tuple(path + [target]))
            elif target not in path and target > path[0]:
                visit(target, path + [target])
    for start in sorted(graph):
        visit(start, [start])
    return sorted(found)


def package(files):
    """A package laid out as files ({path: text}) in a temporary folder; returns its root."""
    root = os.path.join(tempfile.mkdtemp(), 'pagecheck')
    for path, text in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
        with open(os.path.join(root, path), 'w') as source:
            source.write(textwrap.dedent(text))
    return root


class LayersTest(unittest.TestCase):
    def test_the_checker_keeps_its_layers(self):
        self.assertEqual(violations(os.path.join(TOOLS, 'pagecheck')), [])

    def test_an_upward_import_a_circle_a_command_imported_and_a_long_parameter_list_are_found(self):
        root = package({
            '__init__.py': '', 'core/__init__.py': '', 'measure/__init__.py': '', 'commands/__init__.py': '',
            'core/units.py': 'from ..measure.checks import Check\n',
            'measure/checks.py': 'from . import page\nclass Check:\n    pass\n',
            'measure/page.py': 'def read(a, b, c, d, e, f, g):\n    from .checks import Check\n',
            'commands/judge.py': 'def main():\n    pass\n',
            'commands/check.py': 'from .judge import main\n'})
        self.assertEqual(violations(root), [
            'pagecheck.commands.check line 1 imports the command pagecheck.commands.judge',
            'pagecheck.core.units line 1 imports pagecheck.measure.checks: measure is not below core',
            'pagecheck.measure.page line 1: read takes 7 parameters',
            'a circle of imports: pagecheck.measure.checks -> pagecheck.measure.page -> pagecheck.measure.checks'])

    def test_every_reader_has_the_registrys_entry_points(self):
        sys.path.insert(0, TOOLS)
        from pagecheck.readers.registry import READERS
        for reader in READERS:
            with self.subTest(reader.__name__):
                for name in ENTRY_POINTS:
                    self.assertTrue(hasattr(reader, name), name)

    def test_judging_a_picture_loads_neither_libcups_nor_the_printing_stack(self):
        with tempfile.TemporaryDirectory() as folder:
            blank = os.path.join(folder, 'blank.png')
            program = textwrap.dedent(f'''
                import sys
                from PIL import Image
                from pagecheck.commands.judge import main
                Image.new('L', (850, 1100), 255).save({blank!r}, dpi=(100, 100))
                status = main(['--out', {os.path.join(folder, 'out')!r}, {blank!r}])
                with open('/proc/self/maps') as maps:
                    libcups = 'libcups' in maps.read()
                stack = sorted(name for name in sys.modules if name.startswith('pagecheck.stack.'))
                print(status, libcups, 'cups' in sys.modules, stack)''')
            done = subprocess.run([sys.executable, '-B', '-c', program], capture_output=True, text=True,
                                  env=dict(os.environ, PYTHONPATH=TOOLS))
        self.assertIn('not judged: no sheet found', done.stdout, done.stderr)
        self.assertEqual(done.stdout.splitlines()[-1], "1 False False ['pagecheck.stack.versions']")


if __name__ == '__main__':
    unittest.main()
