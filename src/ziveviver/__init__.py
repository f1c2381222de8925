"""Fills Oracle APEX web forms through a Playwright page.

The work is done by two extension modules: ``ziveviver.vexocontrole`` (the fills and the
form controller ``VexoControleApex``) and ``ziveviver.vexofuncoes`` (the logger factory).
"""
