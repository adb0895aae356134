"""The main job on the bundled example data (grows with the module)."""
import ferolin

curve = [
    {"threshold": 0.9, "accepted": 1, "total": 5, "coverage": 0.2, "errors": 0, "risk": 0.0},
    {"threshold": 0.8, "accepted": 3, "total": 5, "coverage": 0.6, "errors": 1, "risk": 1 / 3},
    {"threshold": 0.5, "accepted": 4, "total": 5, "coverage": 0.8, "errors": 1, "risk": 0.25},
    {"threshold": 0.3, "accepted": 5, "total": 5, "coverage": 1.0, "errors": 2, "risk": 0.4},
]
print(f"AURC {ferolin.aurc(curve):.4f}  E-AURC {ferolin.eaurc(curve):.4f}")
