"""The package's modules import one another in one direction: no module
reaches, through any chain of imports (those made only for type checking or
inside a function included), back to itself."""
import ast
import pathlib

import ferolin_tools

PACKAGE = pathlib.Path(ferolin_tools.__file__).parent


def imported_modules(path):
    """The package's modules that the module at `path` imports anywhere."""
    names = set()
    for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
        if isinstance(node, ast.ImportFrom) and node.module == "ferolin_tools":
            names.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and (node.module or "").startswith("ferolin_tools."):
            names.add(node.module.split(".")[1])
        elif isinstance(node, ast.Import):
            names.update(alias.name.split(".")[1] for alias in node.names
                         if alias.name.startswith("ferolin_tools."))
    return {name for name in names if (PACKAGE / f"{name}.py").is_file()}


def import_cycle(graph):
    """One chain of imports that returns to its start, or None."""
    done, path = set(), []

    def visit(module):
        if module in path:
            return path[path.index(module):] + [module]
        if module in done:
            return None
        path.append(module)
        for imported in sorted(graph[module]):
            cycle = visit(imported)
            if cycle:
                return cycle
        path.pop()
        done.add(module)
        return None

    return next((cycle for cycle in map(visit, sorted(graph)) if cycle), None)


def test_no_module_of_the_package_imports_itself_through_others():
    graph = {path.stem: imported_modules(path) for path in PACKAGE.glob("*.py")
             if path.stem != "__init__"}
    assert len(graph) > 20
    assert import_cycle(graph) is None, " -> ".join(import_cycle(graph))
