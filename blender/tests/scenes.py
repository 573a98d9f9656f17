"""Builds test scenes by script: each test gets a scene of its own with a camera."""

import bpy
from mathutils import Matrix, Vector


def new_scene(name="test", size=(160, 90)):
    scene = bpy.data.scenes.new(name)
    scene.render.engine = "EMBERKIT"
    scene.render.resolution_x, scene.render.resolution_y = size
    scene.render.resolution_percentage = 100
    scene.render.fps = 24
    add_camera(scene, location=(0.0, -10.0, 0.0))
    return scene


def add_camera(scene, location, look_at=(0.0, 0.0, 0.0), lens=50.0):
    data = bpy.data.cameras.new("camera")
    data.lens = lens
    camera = bpy.data.objects.new("camera", data)
    aim(camera, location, look_at)
    scene.collection.objects.link(camera)
    scene.camera = camera
    return camera


def aim(camera, location, look_at):
    """Places the camera. The world matrix is set as well: a scene that is not the window's keeps
    its objects' matrices as set, and its depsgraph copies them when it evaluates an object again."""
    rotation = (Vector(look_at) - Vector(location)).to_track_quat("-Z", "Y")
    camera.matrix_world = Matrix.LocRotScale(Vector(location), rotation, None)


def add_mesh(scene, vertices, name="points", marked=True, location=(0, 0, 0), scale=(1, 1, 1), faces=()):
    mesh = bpy.data.meshes.new(name)
    mesh.from_pydata([tuple(v) for v in vertices], [], list(faces))
    obj = bpy.data.objects.new(name, mesh)
    obj.location = location
    obj.scale = scale
    obj.emberkit_points = marked
    scene.collection.objects.link(obj)
    return obj


def add_point_attribute(obj, name, data_type, values, field):
    attribute = obj.data.attributes.new(name, data_type, "POINT")
    attribute.data.foreach_set(field, [c for value in values for c in value])
    return attribute


def add_point_cloud_modifier(obj, velocity, color):
    """A geometry-nodes modifier turning the mesh's vertices into a point cloud that stores
    `velocity` (units per second) and the colour attribute "Col"."""
    tree = bpy.data.node_groups.new("to points", "GeometryNodeTree")
    tree.inputs.new("NodeSocketGeometry", "Geometry")
    tree.outputs.new("NodeSocketGeometry", "Geometry")
    group_in = tree.nodes.new("NodeGroupInput")
    group_out = tree.nodes.new("NodeGroupOutput")
    to_points = tree.nodes.new("GeometryNodeMeshToPoints")
    tree.links.new(group_in.outputs[0], to_points.inputs["Mesh"])
    geometry = to_points.outputs["Points"]
    for name, data_type, socket_type, value in (
        ("velocity", "FLOAT_VECTOR", "VECTOR", velocity),
        ("Col", "FLOAT_COLOR", "RGBA", color),
    ):
        store = tree.nodes.new("GeometryNodeStoreNamedAttribute")
        store.data_type = data_type
        store.domain = "POINT"
        store.inputs["Name"].default_value = name
        value_socket = next(s for s in store.inputs if s.type == socket_type and s.name == "Value")
        value_socket.default_value = value
        tree.links.new(geometry, store.inputs["Geometry"])
        geometry = store.outputs["Geometry"]
    tree.links.new(geometry, group_out.inputs[0])
    modifier = obj.modifiers.new("points", "NODES")
    modifier.node_group = tree
    return modifier


def add_emitter(scene, count=50, frame_start=1, frame_end=1, speed=3.0, timestep=0.04):
    """A plane emitting `count` particles along its normal (+Z) without gravity."""
    emitter = add_mesh(
        scene,
        [(-1, -1, 0), (1, -1, 0), (1, 1, 0), (-1, 1, 0)],
        name="emitter",
        marked=False,
        faces=[(0, 1, 2, 3)],
    )
    emitter.modifiers.new("particles", "PARTICLE_SYSTEM")
    settings = emitter.particle_systems[0].settings
    settings.count = count
    settings.frame_start = frame_start
    settings.frame_end = frame_end
    settings.lifetime = 200
    settings.normal_factor = speed
    settings.timestep = timestep
    settings.effector_weights.gravity = 0.0
    return emitter


def depsgraph_at(scene, frame):
    scene.frame_set(frame)
    depsgraph = scene.view_layers[0].depsgraph
    depsgraph.update()
    return depsgraph
